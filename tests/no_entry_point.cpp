// Opens like the encoder library but offers no conversion.
extern "C" int NotTheEncoder() { return 0; }
