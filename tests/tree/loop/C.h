#pragma once

#include "loop/D.h"
