# cmake -D OUT=file -D "FILES=a|b" -P sha256sums.cmake: writes the SHA-256
# sum of each file as sha256sum does ("<sum>  <name>").
string(REPLACE "|" ";" paths "${FILES}")
file(WRITE ${OUT} "")
foreach(path IN LISTS paths)
  file(SHA256 ${path} sum)
  get_filename_component(name ${path} NAME)
  file(APPEND ${OUT} "${sum}  ${name}\n")
endforeach()
