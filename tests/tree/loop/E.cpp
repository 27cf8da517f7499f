#include "loop/E.h"

#include "loop/C.h"
