#include "ufrmQuorvantis.h"
