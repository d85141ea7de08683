// State of the stand-in for the runtime search's edge (fake_runtime_search_edge.cpp). Its registry
// lives in g_fakeRuntime.registryStrings (fake_platform.h) under "HKLM\..." and "HKCU\..." paths, so
// that ReadRegistryString reads both kinds of key; file status is g_fakeRuntime.existingPaths.
#pragma once

#include <map>
#include <string>
#include <vector>

struct FakeRuntimeSearch {
    std::map<std::string, std::string> environment;
    std::map<std::string, std::string> files;       // ReadSmallFile contents by path
    std::map<std::string, std::string> finalPaths;  // a link's resolved path
    bool answerYes = false;
    std::vector<std::string> questions;  // texts of AskFatalYesNo
    std::vector<std::string> openedPages;
};

extern FakeRuntimeSearch g_fakeSearch;

// Resets this fake and the runtime fakes below it.
void ResetFakeRuntimeSearch();
