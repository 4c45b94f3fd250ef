// Fixed texts of the program that are ours to choose.
#pragma once

#define TD_TITLE_PREFIX "Tarnwickdialer v1.2, Delta Integrale 8v, 16v & Evo1."
inline constexpr char kTitle[] =
    TD_TITLE_PREFIX " Free live-data monitor, written and maintained by the tarnwickdialer developers.";
// The banner and the opening lines that carry the address are written as
// plain lines: each must stay under 80 characters, or a Windows console of
// the classic 80 columns wraps it (one as wide as the console gets a blank
// row after it) and every start-up row below moves down.
inline constexpr char kBanner[] =
    "Delta Integrale 8v, 16v & Evo1 ECUs, grown from an earlier community monitor.";
inline constexpr char kContactAddress[] = "help@tarnwickdialer.example";
