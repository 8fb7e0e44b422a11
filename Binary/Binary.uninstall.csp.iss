[Uninstall]
; Answers of the silent removal of the older Korvex CSP product.
Product=Korvex CSP 2.x
RemoveSharedFiles=Yes
RestartNow=No
