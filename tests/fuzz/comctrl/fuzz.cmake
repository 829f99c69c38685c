vd_add_fuzz(comctrl eventItems)
