vd_add_fuzz(appeditor decodePacket)
