// The registered check families, by name (for main).
#pragma once

#include <map>
#include <string>

#include "check.hpp"

namespace nimbic::checks {

std::map<std::string, FamilyBody>& families();

}  // namespace nimbic::checks
