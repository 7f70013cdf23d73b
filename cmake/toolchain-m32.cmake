# 32-bit x86 Linux build with the host g++ (-m32, from g++-multilib). The tests are run through
# qemu-i386 (qemu-user), so they run even where the kernel cannot start 32-bit programs.
# Naming a system makes this a cross build, which is what lets CTest use the emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

find_program(CMAKE_C_COMPILER NAMES gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES g++ REQUIRED)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")

find_program(VE_QEMU_I386 NAMES qemu-i386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VE_QEMU_I386})
