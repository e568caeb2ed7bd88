/* Resource and control identifiers, shared by the resource script and the
   code. Plain #defines only: windres reads this file too. */
#ifndef SFX_RES_H
#define SFX_RES_H

/* Standard buttons */
#define IDC_OK                  1
#define IDC_CANCEL              2

/* Main dialog */
#define IDC_FOLDER_EDIT         101
#define IDC_FOLDER_LABEL        100
#define IDC_RULE                102
#define IDC_FILE_LIST           301   /* multiple selection; the walk's bookkeeping */
#define IDC_PLAIN_LIST          302   /* shown when the user may not choose files */
#define IDC_OVERWRITE_ALWAYS    501
#define IDC_OVERWRITE_NEVER     502
#define IDC_OVERWRITE_CONFIRM   503
#define IDC_OVERWRITE_LABEL     509
#define IDC_FOOTER              601
#define IDC_BROWSE              775
#define IDC_RUN_CHECK           1007

/* Folder selection dialog */
#define IDC_SEL_INSTRUCTIONS    2000
#define IDC_SEL_PATH            2001
#define IDC_SEL_NETWORK         2002
#define IDC_SEL_LIST            2003
#define IDC_SEL_CREATE          2004

/* New folder dialog */
#define IDC_NEW_CURRENT         3001
#define IDC_NEW_NAME            3002

/* Overwrite prompt */
#define IDC_OVR_QUESTION        101
#define IDC_OVR_DONT_ASK        401

/* Password prompt */
#define IDC_PWD_EDIT            101

/* Labels and icons that no code addresses */
#define IDC_STATIC              -1

#endif
