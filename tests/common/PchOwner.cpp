// Nothing of its own: the program that owns the tests' precompiled headers (gtest_main
// gives it a main).
