// The results and limits of the registrar script language, shared by its tokenizer, its
// placeholder substitution and its two walks.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Results are HRESULT values.
typedef int32_t ScriptResult;
const ScriptResult kScriptSucceeded = 0;                                          // S_OK
const ScriptResult kScriptOutOfMemory = static_cast<ScriptResult>(0x8007000Eu);   // E_OUTOFMEMORY
const ScriptResult kScriptFailed = static_cast<ScriptResult>(0x80004005u);        // E_FAIL
const ScriptResult kScriptException = static_cast<ScriptResult>(0x80020009u);     // DISP_E_EXCEPTION

// A token is read into a buffer of this many bytes, a value or key name into one of
// kScriptNameBufferSize; a placeholder name has at most kMaxPlaceholderName bytes.
const size_t kScriptTokenBufferSize = 4096;
const size_t kScriptNameBufferSize = 260;
const size_t kMaxPlaceholderName = 31;
// Blocks nest at most this deep (the root block is the first level); registry scripts need a
// handful of levels, and a deeper script is refused before anything is written.
const int kMaxBlockDepth = 64;
// A forced removal follows a tree at most this many levels down (deeper: ERROR_BADKEY).
const int kMaxDeleteDepth = 512;
