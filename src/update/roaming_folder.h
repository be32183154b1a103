#pragma once

#include <string>

// The player's roaming application-data folder; empty when it cannot be found.
// The shipping program asks the shell; the test build links a stand-in so that tests never
// write a real player's folder.
std::wstring RoamingAppDataFolder();
