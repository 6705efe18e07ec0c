/* The plug-in's ABI: its exported functions as a host calls them, and the
 * offsets of the host records they read and write. Nothing else of the
 * plug-in is visible outside this header; hosts, tests and tools include it
 * and declare nothing of their own.
 *
 * SV_CALL is the calling convention: the standard call on 32-bit Windows,
 * where every argument is one 32-bit word and the callee removes them, and
 * the platform's own convention elsewhere (one machine word per argument). */
#ifndef UDPSV_EXPORTS_H
#define UDPSV_EXPORTS_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define SV_CALL __stdcall
#else
#define SV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Each export's type, once; the pointer types serve hosts that resolve the
 * exports by name, and the declarations below are made from the same types,
 * so a definition that strays from them does not compile. */
typedef void(SV_CALL IsUserDLL32_ft)(void);
typedef char*(SV_CALL GetDLLName_ft)(void);
typedef int32_t(SV_CALL CanSimulateDLL_ft)(intptr_t);
typedef void(SV_CALL GetParameterStruct_ft)(void* parameterStruct);
typedef void(SV_CALL GetDialogEnableStruct_ft)(void* dialogEnableStruct, intptr_t);
typedef void(SV_CALL GetNumberOfInputsOutputs2_ft)(void* inputsOutputs, intptr_t, void* userData,
                                                    intptr_t);
typedef void(SV_CALL InitUserDLL_ft)(void* blockRecord);
typedef void(SV_CALL DisposeUserDLL_ft)(void* blockRecord);
typedef void(SV_CALL CallParameterDialogDLL_ft)(void* blockRecord, uint8_t* inputsByte);
typedef void(SV_CALL WriteToFile_ft)(intptr_t fileHandle, void* blockRecord);
typedef void(SV_CALL ReadFromFile_ft)(intptr_t fileHandle, void* blockRecord);
typedef void(SV_CALL InitSimulationDLL_ft)(void* blockRecord, const void* inputValues, intptr_t);
typedef void(SV_CALL SimulateDLL2_ft)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                      void* blockRecord, const void* inputValues, intptr_t);
typedef void(SV_CALL EndSimulationDLL2_ft)(void* blockRecord);
typedef int32_t(SV_CALL GetLastFailureDLL_ft)(char* buffer, int32_t size);

typedef IsUserDLL32_ft* IsUserDLL32_fn;
typedef GetDLLName_ft* GetDLLName_fn;
typedef CanSimulateDLL_ft* CanSimulateDLL_fn;
typedef GetParameterStruct_ft* GetParameterStruct_fn;
typedef GetDialogEnableStruct_ft* GetDialogEnableStruct_fn;
typedef GetNumberOfInputsOutputs2_ft* GetNumberOfInputsOutputs2_fn;
typedef InitUserDLL_ft* InitUserDLL_fn;
typedef DisposeUserDLL_ft* DisposeUserDLL_fn;
typedef CallParameterDialogDLL_ft* CallParameterDialogDLL_fn;
typedef WriteToFile_ft* WriteToFile_fn;
typedef ReadFromFile_ft* ReadFromFile_fn;
typedef InitSimulationDLL_ft* InitSimulationDLL_fn;
typedef SimulateDLL2_ft* SimulateDLL2_fn;
typedef EndSimulationDLL2_ft* EndSimulationDLL2_fn;
typedef GetLastFailureDLL_ft* GetLastFailureDLL_fn;

IsUserDLL32_ft IsUserDLL32;
GetDLLName_ft GetDLLName;
CanSimulateDLL_ft CanSimulateDLL;
GetParameterStruct_ft GetParameterStruct;
GetDialogEnableStruct_ft GetDialogEnableStruct;
GetNumberOfInputsOutputs2_ft GetNumberOfInputsOutputs2;
InitUserDLL_ft InitUserDLL;
DisposeUserDLL_ft DisposeUserDLL;
CallParameterDialogDLL_ft CallParameterDialogDLL;
WriteToFile_ft WriteToFile;
ReadFromFile_ft ReadFromFile;
InitSimulationDLL_ft InitSimulationDLL;
SimulateDLL2_ft SimulateDLL2;
EndSimulationDLL2_ft EndSimulationDLL2;
GetLastFailureDLL_ft GetLastFailureDLL;

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
