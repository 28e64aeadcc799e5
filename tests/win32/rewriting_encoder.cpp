// Stands in for SaveJPG.DLL with both entry points and converts nothing: the
// narrow one fails, the wide one writes a path of its own into the JPEG
// path's buffer (within its length) and reports success, as a library may.
// A program that calls the wide entry and takes the buffers back shows that
// path in its summary.
#include <cstdint>
#include <cwchar>

extern "C" __declspec(dllexport) int16_t SavetoJPEG(char*, char*, uint8_t, int16_t) { return 1; }

extern "C" __declspec(dllexport) int16_t
    SavetoJPEGW(const wchar_t*, const wchar_t* dest, uint8_t, int16_t) {
  const wchar_t rewritten[] = L"C:\\\uC0AC\uC9C4\\x.jpg";  // C:\사진\x.jpg
  if (std::wcslen(dest) + 1 < sizeof rewritten / sizeof *rewritten) return 1;
  // The buffer is the caller's own, handed over to be written into.
  std::wmemcpy(const_cast<wchar_t*>(dest), rewritten, sizeof rewritten / sizeof *rewritten);
  return 0;
}
