/* Numeric ids of the module's resources and of the main dialog's controls,
   shared by the resource scripts and the C++ code. Plain macros only above
   the RC_INVOKED guard, so that the resource compiler reads this file too. */
#ifndef UMBROLUX_RESOURCE_IDS_H
#define UMBROLUX_RESOURCE_IDS_H

/* Resources */
#define IDR_PROPERTY_LIST 16000 /* "PIPL": what the host lists and enables */
#define IDR_TERMINOLOGY 16000   /* "AETE": the scripting terms, named by hstm */
#define IDD_MAIN 101            /* the main dialog's template */
#define IDB_LOGO 1004           /* the logo in the dialog's top right corner */
#define IDR_VERSION 1           /* the version record */

/* Controls of the main dialog */
#define IDC_PREVIEW 1002      /* hidden static: the preview area's rectangle */
#define IDC_ZOOM_OUT 1007     /* "-" */
#define IDC_ZOOM_IN 1008      /* "+" */
#define IDC_VIEW_ORIGINAL 1010
#define IDC_VIEW_MASK 1011
#define IDC_VIEW_RESULT 1012
#define IDC_BIAS_SLIDER 1004  /* "Separation" */
#define IDC_GAMMA_SLIDER 1018
#define IDC_CONTRAST_SLIDER 1019
#define IDC_LOAD 1024
#define IDC_SAVE 1025
#define IDC_HELP_BUTTON 1026
#define IDC_BIAS_EDIT 1027
#define IDC_RESET 1028
#define IDC_GAMMA_EDIT 1029
#define IDC_CONTRAST_EDIT 1030
#define IDC_UNNAMED (-1)      /* labels, frames, separators and the logo */

#endif
