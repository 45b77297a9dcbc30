/* A few functions, one static, for a small PDB with private and public symbols. */
static int twice(int v) { return v * 2; }
int sum(const int *values, int count) {
    int total = 0;
    for (int i = 0; i < count; ++i) total += twice(values[i]);
    return total;
}
int pick(int selector) { return selector > 2 ? sum(&selector, 1) : selector + 7; }
