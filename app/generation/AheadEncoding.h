#pragma once
// The model server's head start on a loaded track: the track written into the
// server's scratch folder as 44.1 kHz 16-bit WAV, then handed over with
// "prepare" under its track key, so a later fork of it starts faster.
//
// Each write goes to a temporary file of its own in the scratch folder and is
// renamed onto the track's file when complete, so two writers of one file (the
// same track on two decks, or two tracks whose names share their first 8
// characters) never interleave and the server never reads a torn file.
#include "generation/BrainClient.h"
#include "generation/BrainHealth.h"
#include "library/TrackBuffer.h"

#include <QString>
#include <QUuid>
#include <chrono>
#include <optional>

namespace zelvo::ahead {

// "<scratch>/track-" followed by the first 8 characters of the identifier's
// upper-case text and ".wav". Any thread.
QString scratchFile(const QString& scratchFolder, const QUuid& id);

// Writes the whole buffer to a temporary file beside `file` (creating the
// folder) and renames it onto `file`. False on any failure, which leaves no
// temporary file behind. Any thread but the audio thread.
bool writeScratch(const TrackBuffer& buffer, const QString& file);

// The head start of a track just loaded, when `health` reports the fast half
// loaded (a missing report or field counts as not loaded): a thread of its own,
// at lowered priority, writes the buffer to the track's scratch file and posts
// "prepare" with the track key and the file through a copy of `client`; it
// drops every failure. Returns at once and keeps nothing of the caller's. Main
// thread (the client's clock must outlive the writer).
void start(const std::optional<BrainHealth>& health, const QUuid& id, const TrackBufferRef& buffer,
           const QString& scratchFolder, const BrainClient& client);

// Writers started and not yet finished. Any thread.
int writersInFlight();
// Waits at most `timeout` until no writer runs; true when none does. For the
// program's shutdown only (the main thread otherwise never waits for a writer).
bool waitForWriters(std::chrono::milliseconds timeout);

} // namespace zelvo::ahead
