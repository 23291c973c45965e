// System V segments between guard pages, for programs that read segments a hostile peer wrote.
//
// A program linked with guarded_segments.cpp attaches every System V segment (QSharedMemory's
// included) between two inaccessible pages, so that a read or a write just past either end of a
// segment faults instead of reaching a neighbouring mapping. Linux only.
#pragma once

namespace xel::fuzz {

// How many segments this process attached between guard pages, and how many without (the address
// space for the guard pages could not be reserved). Every attach of the process counts here: a
// program in which segments were attached but none counted did not take shmat() over.
int guardedSegments();
int unguardedSegments();

}  // namespace xel::fuzz
