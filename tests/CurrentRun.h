#pragma once

// Makes institution org, its testee and test the current ones in BD, with the restrictions the
// institution, testee and test windows leave behind; false when one of them is not stored.
// Shared by the tests and the benchmarks of the windows.
bool chooseRun(int org, int testee, int test);
