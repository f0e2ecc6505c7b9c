# The plug-in's description exports, loaded by name under Wine.
qv_add_wine_test(describe COMMAND harness describe)
