// Removes a folder and everything in it, whatever the modes inside and however
// deep it goes.
#pragma once

#include <string>

void RemoveTree(const std::string& root);
