// The load configuration of an image built with Control Flow Guard
// (TOLVARIN_PROCESS_MITIGATIONS). The loader reads from it where the image's
// table of valid call targets is, and writes the addresses of its own check
// and dispatch routines into the two pointers below, through which every
// instrumented indirect call goes. The MinGW-w64 runtime this builds on has
// neither, so they are here, laid out as IMAGE_LOAD_CONFIG_DIRECTORY64 is
// documented (the field offsets are on the right). lld fills in the table,
// its count and the guard flags through the __guard_* symbols.
//
// Until the loader replaces them (and where it never does: older Windows,
// Wine), the pointers lead to routines that let every call through: the
// check returns, the dispatch jumps to the target the caller left in rax.
// A wrong layout would stop the program from starting on Windows; the image
// test reads every field back.

// NOLINTNEXTLINE(hicpp-no-assembler): data the C++ language cannot lay out
asm(R"(
    .section .rdata,"dr"
    .p2align 3
    .globl _load_config_used
_load_config_used:
    .long  _load_config_used_end - _load_config_used  # 0x000 Size
    .long  0                         # 0x004 TimeDateStamp
    .short 0, 0                      # 0x008 MajorVersion, MinorVersion
    .long  0, 0                      # 0x00c GlobalFlagsClear, GlobalFlagsSet
    .long  0                         # 0x014 CriticalSectionDefaultTimeout
    .quad  0, 0                      # 0x018 DeCommitFreeBlockThreshold, DeCommitTotalFreeThreshold
    .quad  0, 0                      # 0x028 LockPrefixTable, MaximumAllocationSize
    .quad  0, 0                      # 0x038 VirtualMemoryThreshold, ProcessAffinityMask
    .long  0                         # 0x048 ProcessHeapFlags
    .short 0, 0                      # 0x04c CSDVersion, DependentLoadFlags
    .quad  0                         # 0x050 EditList
    .quad  0                         # 0x058 SecurityCookie (none: no /GS)
    .quad  0, 0                      # 0x060 SEHandlerTable, SEHandlerCount (x86 only)
    .quad  __guard_check_icall_fptr  # 0x070 GuardCFCheckFunctionPointer
    .quad  __guard_dispatch_icall_fptr  # 0x078 GuardCFDispatchFunctionPointer
    .quad  __guard_fids_table        # 0x080 GuardCFFunctionTable
    .quad  __guard_fids_count        # 0x088 GuardCFFunctionCount
    .long  __guard_flags             # 0x090 GuardFlags
    .short 0, 0                      # 0x094 CodeIntegrity: Flags, Catalog
    .long  0, 0                      # 0x098 CodeIntegrity: CatalogOffset, Reserved
    .quad  __guard_iat_table         # 0x0a0 GuardAddressTakenIatEntryTable
    .quad  __guard_iat_count         # 0x0a8 GuardAddressTakenIatEntryCount
    .quad  __guard_longjmp_table     # 0x0b0 GuardLongJumpTargetTable
    .quad  __guard_longjmp_count     # 0x0b8 GuardLongJumpTargetCount
    .quad  0, 0                      # 0x0c0 DynamicValueRelocTable, CHPEMetadataPointer
    .quad  0, 0                      # 0x0d0 GuardRFFailureRoutine, its FunctionPointer
    .long  0                         # 0x0e0 DynamicValueRelocTableOffset
    .short 0, 0                      # 0x0e4 DynamicValueRelocTableSection, Reserved2
    .quad  0                         # 0x0e8 GuardRFVerifyStackPointerFunctionPointer
    .long  0, 0                      # 0x0f0 HotPatchTableOffset, Reserved3
    .quad  0, 0                      # 0x0f8 EnclaveConfigurationPointer, VolatileMetadataPointer
    .quad  __guard_eh_cont_table     # 0x108 GuardEHContinuationTable
    .quad  __guard_eh_cont_count     # 0x110 GuardEHContinuationCount
    .quad  0, 0, 0                   # 0x118 GuardXFGCheck, Dispatch, TableDispatchFunctionPointer
    .quad  0                         # 0x130 CastGuardOsDeterminedFailureMode
    .quad  0                         # 0x138 GuardMemcpyFunctionPointer
_load_config_used_end:                # 0x140

    .p2align 3
    .globl __guard_check_icall_fptr
__guard_check_icall_fptr:
    .quad  tolvarin_guard_check_icall
    .globl __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
    .quad  tolvarin_guard_dispatch_icall

    .text
    .p2align 4
tolvarin_guard_check_icall:
    ret
    .p2align 4
tolvarin_guard_dispatch_icall:
    jmp    *%rax
)");
