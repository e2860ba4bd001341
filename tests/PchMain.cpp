// Builds the precompiled header that every test program reuses; never run.
int main() {
    return 0;
}
