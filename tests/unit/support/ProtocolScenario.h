// The scenarios every way of making a protocol object must pass.
#pragma once

#include "ProtocolHost.h"

#include <gtest/gtest.h>

class ProtocolScenario : public testing::TestWithParam<ObjectMaker> {};
