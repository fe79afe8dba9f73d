// The platform's half of the hold on the system for a run (device_run.h):
// each platform file gives these, device_run.cpp keeps the order and the state.
#pragma once

// Keeps the machine from sleeping on its own until let_sleep().
void keep_awake(const char* program, const char* purpose);
void let_sleep();

// The console settings for the run, and putting them back.
void hold_console();
void release_console();

// When the console window is this process's alone and its output shows
// there, so that the window closes with the process, prompts for a key.
void keep_last_message();

// Called by wait_key as it starts: the run has shown its key prompt.
void note_key_prompt();
