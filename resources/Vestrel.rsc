# placeholder, defined with the dialog
