#pragma once

#include "loop/A.h"
// #include "loop/F.h" is no include: only lines that start with one count.
