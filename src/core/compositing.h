// Compositing: preview paste, byte/float conversion, guidance field and the blend.
//
// Byte images are RGB, 3 bytes per pixel, row-major from the top row, no padding: pixel (x, y)
// at byte (y * width + x) * 3. Float images have the same layout with one float per byte,
// value = byte * K, K = 1/255 in single precision. Points are object-image pixels (inner_px,
// inner_py, in row-major order as the selection produces them); `from` is the selection centre
// (entries 4 and 5 of the selection box) and `to`/`paste_position` the background pixel on
// which it lands, so every inner pixel moves by to - from. No globals, no GL.
#pragma once

#include <string>
#include <vector>

enum class blend_mode {
  normal,  // guidance is the object's Laplacian
  mixed,   // per neighbour difference, the object's or the background's, whichever is larger
  paste,   // plain copy, as the preview
};

enum class solver_choice { automatic, lu, multigrid };

// Reads a solver name as both programs take it on their command lines: "auto", "lu" or
// "multigrid". False, leaving `solver` as it was, for anything else.
bool parse_solver_choice(const std::string& text, solver_choice& solver);

struct blend_options {
  blend_mode mode = blend_mode::normal;
  solver_choice solver = solver_choice::automatic;
};

// What one blend did; filled as far as the blend got.
struct blend_report {
  int unknowns = 0;  // destinations that became unknowns of the system
  bool used_multigrid = false;
  int iterations = 0;  // multigrid iterations, 0 for the direct solve
  double guidance_seconds = 0;
  double solve_seconds = 0;
  double write_back_seconds = 0;
  std::string error;  // one line when the blend failed
};

// Copies the inner pixels of `source` into `destination`, shifted by to - from; destinations
// outside the destination image are skipped.
void paste_pixels(unsigned char* destination, const unsigned char* source, int destination_width,
                  int destination_height, int source_width, const std::vector<int>& inner_px,
                  const std::vector<int>& inner_py, const int from[2], const int to[2]);

// Fills an already sized float image from bytes of the same size: v -> v * K.
void bytes_to_floats(std::vector<float>& float_image, const unsigned char* bytes, int width,
                     int height, int channels);

// Bytes from floats: 255 * f in double, truncated toward zero, clamped to 0..255.
void floats_to_bytes(unsigned char* bytes, const std::vector<float>& float_image, int width,
                     int height, int channels);

// Sizes and fills the float image from the background, fills the destination lists (every
// inner pixel, also those that land outside), writes the guidance at every destination in
// columns 1..width-2 and rows 1..height-2 of the background, and solves there; the other
// destinations keep the background's value. Unknowns are numbered in the order of the inner
// pixels that remain. Mixed mode reads the background's differences from `background`.
// Returns false (float image content then unspecified) when the selection is empty, when no
// destination lies in that interior, or when the solve fails; report->error says why. Every
// inner pixel must lie off the object's outermost ring (checked). `report` may be null.
bool compute_guidance_field(std::vector<float>& blended_image, std::vector<int>& tgt_inner_px,
                            std::vector<int>& tgt_inner_py, const unsigned char* background,
                            const unsigned char* object, int background_width,
                            int background_height, int object_width, int object_height,
                            const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                            const int from[2], const int paste_position[2],
                            const blend_options& options, blend_report* report);

// The whole blend into `background`, which is written only when the blend succeeds; on any
// failure (solver failure, memory exhausted, nothing of the selection inside the background's
// interior) it is left exactly as it was and the function returns false with report->error set.
// Mode paste is paste_pixels, failing only when no pixel lands inside the background. The
// solver: lu, multigrid, or automatic (lu up to auto_lu_max_unknowns unknowns, multigrid
// above, falling back to lu if multigrid fails). `report` may be null.
bool blend_selection(unsigned char* background, int background_width, int background_height,
                     const unsigned char* object, int object_width, int object_height,
                     const std::vector<int>& inner_px, const std::vector<int>& inner_py,
                     const int from[2], const int paste_position[2], const blend_options& options,
                     blend_report* report);
