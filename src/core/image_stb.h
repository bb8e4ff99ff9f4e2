// The second image decoder: the current stb_image, compiled privately into the core (the older
// copy that the first loader carries exports symbols of the same names, so the library build of
// stb is never linked). It reads what the old decoder refuses: progressive JPEG, 16-bit and
// interlaced PNG. Output as in image_io.h: 8-bit RGB, top row first, no padding.
#pragma once

#include <string>

#include "image_io.h"

// Reads only the header. True with the size when the format is recognised; false otherwise
// (an unrecognised file is not necessarily an error: the first loader may still read it).
bool probe_image_size(const std::string& path, int& width, int& height);

// Decodes the whole file to 8-bit RGB (grey is replicated, alpha dropped). Refuses images whose
// byte size does not fit a 32-bit int. On failure returns false with the decoder's reason.
bool decode_with_stb(const std::string& path, rgb_image& image, std::string& error);
