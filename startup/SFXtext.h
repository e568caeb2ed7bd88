// Fixed texts that more than one module shows.
#ifndef SFX_TEXT_H
#define SFX_TEXT_H

#define TEXT_WARNING_CAPTION   "neat-Sfx - WARNiNG"
#define TEXT_ERROR_READING     "Error reading archive."
#define TEXT_ERROR_IN_DIR      "Error in directory"
#define TEXT_MAIN_CAPTION      "neat-SFX Archive"

#endif
