[Uninstall]
; Answers of the silent removal of the older Korvex TLS product.
Product=Korvex TLS 2.x
RemoveSharedFiles=No
RestartNow=No
