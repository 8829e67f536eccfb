#include "uitesting.h"

#include <gtest/gtest.h>
