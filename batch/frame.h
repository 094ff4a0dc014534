// The frame every driver shares: open and show the window, prepare the
// engine, and at the end hide and release everything again.
#pragma once

#include "engine/cryptofile.h"
#include "halvex/records.h"

// Opens the window and prepares the engine. When the engine cannot be
// prepared, writes its code to dwErrCode, closes the window again and
// returns false: the batch ends before its first file.
bool StartBatch(tagCRYPTOPARAMS* request);
// Hides and releases the window, ends COM on the thread, releases the keys.
void EndBatch(tagCRYPTOPARAMS* request);
// Hands the engine what it needs of the batch: the progress callback of its
// cipher calls and the steps file replacement runs.
void LinkEngineToBatch(CCryptoFile& engine);
