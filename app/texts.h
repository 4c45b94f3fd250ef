// Fixed texts of the program that are ours to choose.
#pragma once

#define TD_TITLE_PREFIX "Tarnwickdialer v1.2, Delta Integrale 8v, 16v & Evo1."
inline constexpr char kTitle[] =
    TD_TITLE_PREFIX " Free live-data monitor, written and maintained by the tarnwickdialer developers.";
inline constexpr char kBanner[] =
    "Delta Integrale 8v, 16v & Evo1 ECUs - live data, grown from an earlier community "
    "diagnostic monitor.";
inline constexpr char kContactAddress[] = "support@tarnwickdialer.example";
