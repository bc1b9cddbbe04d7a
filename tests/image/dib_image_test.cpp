#include "image/dib_image.h"
