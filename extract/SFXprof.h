// Where an extracting walk spends its time, in a measuring build only
// (SFX_PROFILE, built as sfx-x64-profile.exe for scripts/bench-extract
// --profile). Each mark charges the time since the previous mark to a
// step; the walk's end writes the totals to sfx-profile.txt in the current
// folder. In the program itself the marks are nothing.
#ifndef SFX_PROF_H
#define SFX_PROF_H

enum ProfileStep {
    ProfileWalk,        // headers, names, seeks: the walk's own reading
    ProfileLookup,      // finding the entry's item in the list
    ProfileCreate,      // creating the file, with its folders or the policy's say
    ProfileProgress,    // the footer text and the one dispatched message
    ProfileDecode,      // reading, decoding and writing the data
    ProfileStamp,       // the time stamp
    ProfileCommit,      // renaming it to the target's name
    ProfileClose,       // closing the file (and removing it when it failed)
    ProfileSteps,
};

#ifdef SFX_PROFILE
void ProfileMark(ProfileStep step);
void ProfileReport();
#else
inline void ProfileMark(ProfileStep) {}
inline void ProfileReport() {}
#endif

#endif
