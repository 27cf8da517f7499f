#pragma once

#include "other/G.h"
