#pragma once
// Skip-function and skip-line rules applied to one block in place.

#include <cstddef>

namespace corvane {

// Returns the block's new length (0: nothing left). Either rule may be null.
int ApplySkipRules(char* block, const char* skipLine, const char* skipCode);

int GetListItem(const char* rule, char separator, int index, char* out, size_t outSize);
int ParseAddressWord(const char* text, char* letter, double* value, bool* any, bool wildcard);
// Position of the first matching word, or -1; its length in *length.
int FindAddressWord(const char* block, char letter, double value, bool any, int* length);

} // namespace corvane
