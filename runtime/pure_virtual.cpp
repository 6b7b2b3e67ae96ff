// The compiler fills the vtable slots of pure virtual functions with __cxa_pure_virtual. A call
// through one is a fault of the product (a pure virtual called during a construction or a
// destruction); with no C runtime linked there is no abort() to report it, so the process stops
// at an illegal instruction right there, where a debugger or the system's fault report shows it.
extern "C" void __cxa_pure_virtual() {
    __builtin_trap();
}
