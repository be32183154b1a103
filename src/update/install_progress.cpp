#include "update/install_progress.h"

#include <algorithm>

int InstallPercent(int copied, int total) {
    if (total <= 0) {
        return 90;
    }
    return std::min(copied * 35 / total + 55, 90);
}
