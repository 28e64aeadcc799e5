#include "app/program.h"

int main(int argc, char** argv) { return morvane::RunProgram(argc, argv); }
