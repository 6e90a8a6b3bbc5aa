// frcli: plays the host platform for the driver.
#include <cstdio>

int main() {
    std::puts("frcli: the driver object arrives with the framework");
    return 0;
}
