#pragma once

// The window reads the process-wide Progress(). Its lock is initialised once for the whole
// test program; tests that change the state put it back with this.
void ResetGlobalProgress();
