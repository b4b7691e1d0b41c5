# Vestrel.rsc: resources of the Vestrel plug-in.
# One item per line; '#' starts a comment line; blank lines are ignored.
# Texts are in double quotes; inside them \" and \\ are the only escapes.
dialog 21000 "Vestrel"
  label    1 "Angle tolerance (degrees):"
  edit     3 "5"
  checkbox 4 "Freeze path"
  checkbox 5 "Reverse line"
  ok       6 "OK"
  cancel   7 "Cancel"
end
