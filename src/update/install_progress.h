#pragma once

// Percentage after `copied` of `total` files: 55 to 90, never past 90, and never a division by
// zero when the count and the copy disagree.
int InstallPercent(int copied, int total);
