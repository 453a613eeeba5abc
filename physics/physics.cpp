#include "physics.h"
