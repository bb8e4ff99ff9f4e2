// Start-up of the window program: open the window, install the callbacks, load both images,
// then hand over to the toolkit's loop for the rest of the run.
#include <GL/freeglut.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "shell.h"
#include "state.h"

void init_gl() {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  // Only level 0 is ever given, so a mipmapping filter would leave the texture incomplete.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexEnvf(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
  // Image rows are packed (3 * width bytes); the default alignment of 4 would skew odd widths.
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

static bool load_one(const char* path, const char* role, int slot, std::string& error) {
  std::string reason;
  if (!load_image(path, image_storage[slot], reason)) {
    error = std::string("cannot load ") + role + " image '" + path + "': " + reason;
    return false;
  }
  images[slot] = image_storage[slot].pixels.data();
  image_width[slot] = image_storage[slot].width;
  image_height[slot] = image_storage[slot].height;
  return true;
}

bool load_images(const char* background_path, const char* object_path, std::string& error) {
  if (!load_one(background_path, "background", 0, error)) return false;
  // The pristine copy: the preview restores the background from it before every paste.
  image_storage[2] = image_storage[0];
  images[2] = image_storage[2].pixels.data();
  image_width[2] = image_width[0];
  image_height[2] = image_height[0];
  if (!load_one(object_path, "object", 1, error)) return false;

  GLint max_side = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_side);
  for (int i = 0; i < 2; ++i) {
    const panel_layout layout =
        compute_panel_layout(i, image_width[i], image_height[i], window_width, window_height);
    display_scale[i] = layout.scale;
    panel_rect_px[i] = layout.rect_px;
    panel_rect[i] = layout.rect_unit;
    if (max_side > 0 && (image_width[i] > max_side || image_height[i] > max_side)) {
      texture_copy[i] = downscale_to_fit(images[i], image_width[i], image_height[i], max_side);
    }
  }
  return true;
}

// Reads the flags after the two image paths; anything else there is ignored. Returns 0, or the
// exit status after printing one line on stderr.
static int parse_flags(int argc, char** argv) {
  for (int i = 3; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "-o" || flag == "--output") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "Mendlark: %s needs a file name, for example %s blended.png\n",
                     flag.c_str(), flag.c_str());
        return 2;
      }
      output_path = argv[++i];
      if (!is_supported_output(output_path)) {
        std::fprintf(stderr,
                     "Mendlark: cannot write '%s': unknown image format (use .png, .jpg, .jpeg, "
                     ".bmp or .tga)\n",
                     output_path.c_str());
        return 2;
      }
    } else if (flag == "--solver") {
      const std::string value = i + 1 < argc ? argv[++i] : "";
      if (!parse_solver_choice(value, blend_settings.solver)) {
        std::fprintf(stderr, "Mendlark: --solver takes auto, lu or multigrid (got '%s')\n",
                     value.c_str());
        return 2;
      }
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  glutInit(&argc, argv);
  // Flags are checked before the window opens, so a typo costs no blend.
  if (argc >= 3) {
    const int status = parse_flags(argc, argv);
    if (status != 0) return status;
  }
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE);
  glutInitWindowSize(window_width, window_height);
  glutCreateWindow("Mendlark");
  glutDisplayFunc(display);
  glutIdleFunc(display);
  glutMouseFunc(on_mouse);
  glutMotionFunc(on_motion);
  glutPassiveMotionFunc(on_passive_motion);
  glutSpecialFunc(on_special);
  glutKeyboardFunc(on_keyboard);
  glutReshapeFunc(on_reshape);
  init_gl();

  // Both paths are taken only when both are given; a single argument is ignored.
  const char* background_path = argc >= 3 ? argv[1] : "src.jpg";
  const char* object_path = argc >= 3 ? argv[2] : "tgt.jpg";
  std::string error;
  if (!load_images(background_path, object_path, error)) {
    std::fprintf(stderr, "Mendlark: %s\n", error.c_str());
    return 1;
  }
  glutMainLoop();
  return 0;
}
