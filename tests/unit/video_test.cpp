#include <gtest/gtest.h>

#include "TestUtil.h"
