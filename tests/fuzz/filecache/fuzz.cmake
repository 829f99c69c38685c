vd_add_fuzz(filecache mbdf_readFile)
vd_add_fuzz(filecache mbdf_readMemory)
vd_add_fuzz(filecache ini_parse)
