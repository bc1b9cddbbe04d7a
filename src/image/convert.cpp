#include "image/convert.h"
