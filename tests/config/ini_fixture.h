#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "support/temp_dir.h"
#include "util/ucstring.h"  // the tests that write .ini files read records back as text
