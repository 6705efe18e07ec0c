/* The plug-in's exported functions, as a host calls them.
 *
 * SV_CALL is the calling convention: __stdcall in the win32 build (the build
 * defines it), nothing natively. Every argument is one machine word. */
#ifndef UDPSV_EXPORTS_H
#define UDPSV_EXPORTS_H

#include <stdint.h>

#ifndef SV_CALL
#define SV_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void(SV_CALL* IsUserDLL32_fn)(void);
typedef char*(SV_CALL* GetDLLName_fn)(void);
typedef int32_t(SV_CALL* CanSimulateDLL_fn)(intptr_t);
typedef void(SV_CALL* GetParameterStruct_fn)(void* parameterStruct);
typedef void(SV_CALL* GetDialogEnableStruct_fn)(void* dialogEnableStruct, intptr_t);
typedef void(SV_CALL* GetNumberOfInputsOutputs2_fn)(void* inputsOutputs, intptr_t, void* userData,
                                                     intptr_t);
typedef void(SV_CALL* InitUserDLL_fn)(void* blockRecord);
typedef void(SV_CALL* DisposeUserDLL_fn)(void* blockRecord);
typedef void(SV_CALL* CallParameterDialogDLL_fn)(void* blockRecord, uint8_t* inputsByte);
typedef void(SV_CALL* WriteToFile_fn)(intptr_t fileHandle, void* blockRecord);
typedef void(SV_CALL* ReadFromFile_fn)(intptr_t fileHandle, void* blockRecord);
typedef void(SV_CALL* InitSimulationDLL_fn)(void* blockRecord, const void* inputValues, intptr_t);
typedef void(SV_CALL* SimulateDLL2_fn)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                                       void* blockRecord, const void* inputValues, intptr_t);
typedef void(SV_CALL* EndSimulationDLL2_fn)(void* blockRecord);
typedef int32_t(SV_CALL* GetLastFailureDLL_fn)(char* buffer, int32_t size);

/* Host record layout used by the plug-in. */
#define SV_BLOCK_USER_DATA_SLOT 5571
#define SV_BLOCK_OWNER_WINDOW 5579
#define SV_IO_NAME_SLOT_SIZE 41
#define SV_IO_MAX_INPUTS 50
#define SV_PARAMETER_STRUCT_LAST 323

/* Code of the structured exception the win32 build raises when an export
 * fails; argument 0 is the address of the ANSI message, argument 1 its
 * length in bytes. */
#define SV_FAILURE_EXCEPTION_CODE 0xE0535631u

#ifdef __cplusplus
}
#endif

#endif
