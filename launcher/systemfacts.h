// An identified system as a value: what sysident finds for this machine, or what a tool
// describes for another one. The clause matcher and the description line take it.
#pragma once

constexpr int DISTRO_NAME_SIZE = 32;
constexpr int KERNEL_LEVEL_SIZE = 128;
constexpr int PROCESSOR_CLASS_SIZE = 16;

struct SystemFacts {
    char name[DISTRO_NAME_SIZE];  // "RedHat", "SuSE", "NLD", an os-release name, "Unknown"
    int level;
    int update;
    char kernel[KERNEL_LEVEL_SIZE];
    char processor[PROCESSOR_CLASS_SIZE];  // "i386", "x86_64", "ppc64" or "Unknown"
};
