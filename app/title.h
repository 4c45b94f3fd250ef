// The console title: the program's name, and what the user must see at a
// glance from another window: the port lost, the recording.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr std::size_t kTitleSize = 1024;

// Pure. `lost_port` is the name waited for (null: the port is there);
// `recording` the file (null: none asked for), with its marker count, or
// `stopped` saying why the recording ended (null: it goes on); `tone`
// whether the tone is on. The names are shown as they are: the caller makes
// them safe.
void TitleText(char* out, std::size_t size, const char* lost_port, const char* recording,
               unsigned marks, const char* stopped, bool tone = false);

// What the title says for the program's state now beyond its name, for a
// screen where there is no title bar; "" when it says nothing more, or when
// the title bar shows it. Red when the port is lost or the recording stopped.
void TitleNotice(char* out, std::size_t size, std::uint16_t* colour);

// Shows the title for the program's state now.
void ShowTitle();

// The link's word that the port went away (lost) or is back.
void TitlePortLost(bool lost, const char* port);
bool TitleSaysPortLost();

// The tone switched on or off.
void TitleTone(bool on);
