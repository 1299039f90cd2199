#pragma once

#include <cstdio>

// Sets the benchmark's figures apart from what the libraries print: from now on standard
// output goes nowhere, and the returned stream writes where it went before (standard output
// itself when that cannot be arranged).
FILE* figuresApartFromStandardOutput();
