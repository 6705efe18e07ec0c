/* The plug-in's ABI: its exported functions as a host calls them, and the
 * offsets of the host records they read and write. Nothing else of the
 * plug-in is visible outside this header; hosts, tests and tools include it
 * and declare nothing of their own.
 *
 * SV_CALL is the calling convention: the standard call on 32-bit Windows,
 * where every argument is one 32-bit word and the callee removes them, and
 * the platform's own convention elsewhere (one machine word per argument).
 *
 * The host calls the exports one at a time, from its user-interface thread.
 * Every export keeps these promises:
 *  - nothing is thrown out of it (noexcept): no C++ exception crosses;
 *  - the thread's x87 control word comes back as it came, with no exception
 *    left pending under it; a condition the caller traps fails the call
 *    instead of trapping;
 *  - it clears the calling thread's failure record first; a failure that
 *    ends it is recorded there, and on win32 then raised as the structured
 *    exception SV_FAILURE_EXCEPTION_CODE, while natively the export returns
 *    normally (GetLastFailureDLL reads the record);
 *  - after a start-up that failed, it fails with the start-up's text. */
#ifndef UDPSV_EXPORTS_H
#define UDPSV_EXPORTS_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define SV_CALL __stdcall
#else
#define SV_CALL
#endif

#ifdef __cplusplus
#define SV_NOEXCEPT noexcept
extern "C" {
#else
#define SV_NOEXCEPT
#endif

/* Each export's type, once, with when the host calls it and what it
 * touches; the pointer types and the declarations below are made from
 * these, so a definition that strays from them does not compile. */

/* The describing exports concern the block kind; the host may call them at
 * any time while the library is loaded. */

/* The marker of a block library; does nothing. */
typedef void(SV_CALL IsUserDLL32_ft)(void) SV_NOEXCEPT;
/* The display name, "UDP Sorvane2Simulink": the same static text each time. */
typedef char*(SV_CALL GetDLLName_ft)(void)SV_NOEXCEPT;
/* 1: the block can simulate. The argument is not read. */
typedef int32_t(SV_CALL CanSimulateDLL_ft)(intptr_t) SV_NOEXCEPT;
/* Writes the parameter struct's SV_PARAMETER_* fields, no other byte. */
typedef void(SV_CALL GetParameterStruct_ft)(void* parameterStruct) SV_NOEXCEPT;
/* Writes the dialog-enable struct's SV_DIALOG_ENABLE_* fields, no other
 * byte. The second argument is not read. */
typedef void(SV_CALL GetDialogEnableStruct_ft)(void* dialogEnableStruct, intptr_t) SV_NOEXCEPT;

/* The per-block exports act on one block, between its InitUserDLL and its
 * DisposeUserDLL; each finds the block's parameters through the block
 * record's user-data slot (SV_BLOCK_USER_DATA_SLOT) without checking it. */

/* Whenever the host needs the block's inputs: writes the number of inputs
 * and of outputs (0) and all SV_IO_MAX_INPUTS input names into the
 * inputs-outputs struct (SV_IO_*). userData is the slot's content; null
 * writes nothing. The second and fourth arguments are not read. */
typedef void(SV_CALL GetNumberOfInputsOutputs2_ft)(void* inputsOutputs, intptr_t, void* userData,
                                                   intptr_t) SV_NOEXCEPT;
/* First, for each new block: makes its parameters with their defaults and
 * writes their address into the user-data slot; the window handle at
 * SV_BLOCK_OWNER_WINDOW becomes the owner of the library's windows. */
typedef void(SV_CALL InitUserDLL_ft)(void* blockRecord) SV_NOEXCEPT;
/* Last, for each block: ends a run the host left running and frees the
 * block's parameters (the slot keeps its value); the library's windows get
 * no owner until the next InitUserDLL. */
typedef void(SV_CALL DisposeUserDLL_ft)(void* blockRecord) SV_NOEXCEPT;
/* When the user opens the block's parameters: the modal dialog. OK stores
 * them and writes the low 8 bits of the new number of inputs into
 * *inputsByte; Cancel changes nothing. */
typedef void(SV_CALL CallParameterDialogDLL_ft)(void* blockRecord, uint8_t* inputsByte) SV_NOEXCEPT;
/* When the host saves a model: the block's section, five CR LF lines, at
 * the position of the open file (the low 16 bits of fileHandle). */
typedef void(SV_CALL WriteToFile_ft)(intptr_t fileHandle, void* blockRecord) SV_NOEXCEPT;
/* When the host loads a model: the block's section from the position of
 * the open file; the values read replace the block's parameters. */
typedef void(SV_CALL ReadFromFile_ft)(intptr_t fileHandle, void* blockRecord) SV_NOEXCEPT;
/* Run start: opens the block's UDP sender and sends the first frame of the
 * input values (10-byte x87 values without gaps, one per input). The third
 * argument is not read. */
typedef void(SV_CALL InitSimulationDLL_ft)(void* blockRecord, const void* inputValues,
                                           intptr_t) SV_NOEXCEPT;
/* Each simulation step: sends one frame of the input values. Arguments 1 to
 * 6 and 9 are not read. */
typedef void(SV_CALL SimulateDLL2_ft)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                      void* blockRecord, const void* inputValues,
                                      intptr_t) SV_NOEXCEPT;
/* Run end: closes the block's sender; nothing of the run outlives it. */
typedef void(SV_CALL EndSimulationDLL2_ft)(void* blockRecord) SV_NOEXCEPT;

/* After any export, on the same thread: the byte length of the failure that
 * ended the thread's latest call (0 when it succeeded), and at most size - 1
 * bytes of its text and a zero into buffer. It reads the record and never
 * clears it, never fails, and touches no host record. */
typedef int32_t(SV_CALL GetLastFailureDLL_ft)(char* buffer, int32_t size) SV_NOEXCEPT;

/* The exports: each name, and the bytes of arguments that its win32 form
 * removes (4 per argument), the suffix of its stdcall symbol. The .def
 * file, the native export map, the checks of both builds' export tables
 * and the host emulator's table of exports are all made from this list. */
#define SV_EXPORTS(X)              \
  X(IsUserDLL32, 0)                \
  X(GetDLLName, 0)                 \
  X(CanSimulateDLL, 4)             \
  X(GetParameterStruct, 4)         \
  X(GetDialogEnableStruct, 8)      \
  X(GetNumberOfInputsOutputs2, 16) \
  X(InitUserDLL, 4)                \
  X(DisposeUserDLL, 4)             \
  X(CallParameterDialogDLL, 8)     \
  X(WriteToFile, 8)                \
  X(ReadFromFile, 8)               \
  X(InitSimulationDLL, 12)         \
  X(SimulateDLL2, 36)              \
  X(EndSimulationDLL2, 4)          \
  X(GetLastFailureDLL, 8)

/* Each export's pointer type, for hosts that resolve the exports by name,
 * and its declaration. */
#define SV_DECLARE_EXPORT(name, bytes) \
  typedef name##_ft* name##_fn;        \
  name##_ft name;
SV_EXPORTS(SV_DECLARE_EXPORT)
#undef SV_DECLARE_EXPORT

/* Block record: the address of the block's TUserData (a pointer: 4 bytes on
 * win32, 8 natively) and the handle of the host window that is to own the
 * library's windows. */
#define SV_BLOCK_USER_DATA_SLOT 5571
#define SV_BLOCK_OWNER_WINDOW 5579

/* Inputs-outputs struct: the two counts, then one name slot per input. */
#define SV_IO_INPUT_COUNT 0
#define SV_IO_OUTPUT_COUNT 1
#define SV_IO_FIRST_NAME 2
#define SV_IO_NAME_SLOT_SIZE 41
#define SV_IO_MAX_INPUTS 50

/* Parameter struct: three flag bytes and one 32-bit word. */
#define SV_PARAMETER_BYTE_0 0
#define SV_PARAMETER_BYTE_1 1
#define SV_PARAMETER_BYTE_2 2
#define SV_PARAMETER_WORD_323 323

/* Dialog-enable struct: three 32-bit masks and one flag byte. */
#define SV_DIALOG_ENABLE_MASK_0 0
#define SV_DIALOG_ENABLE_MASK_1 4
#define SV_DIALOG_ENABLE_MASK_2 8
#define SV_DIALOG_ENABLE_FLAG 12

/* Code of the structured exception the win32 build raises when an export
 * fails; argument 0 is the address of the ANSI message, argument 1 its
 * length in bytes. */
#define SV_FAILURE_EXCEPTION_CODE 0xE0535631u

#ifdef __cplusplus
}
#endif

#endif
