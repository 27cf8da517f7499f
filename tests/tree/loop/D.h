#pragma once

#include "loop/E.h"
