#include "tools/directory_tree.h"

int CopyTree(const std::wstring&, const std::wstring&, FileCallback) { return 0; }
int CountFiles(const std::wstring&) { return 0; }
void DeleteTree(const std::wstring&) {}
