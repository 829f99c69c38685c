vd_add_fuzz(appeditor decodePacket)
vd_add_fuzz(appeditor clientStream)
