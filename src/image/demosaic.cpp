#include "image/demosaic.h"
