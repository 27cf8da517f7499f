#include "loop/A.h"

#include "loop/B.h"
