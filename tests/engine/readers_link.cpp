// The independent readers of tests/jet, shared with the engine tests.
#include "../jet/readers.cpp"
