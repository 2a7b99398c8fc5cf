# The layers, lowest first: each folder with the folders it may use directly,
# and through them whatever those may use. Each layer folder is one library,
# quor_<folder>. Nothing may reach up: the libraries' links are checked against
# this table when configuring (quor_directory), the #include lines of every
# source file by the layers test (cmake/check_layers.cmake).
set(QUOR_LAYERS
  "platform:"
  "log: platform"
  "images: platform"
  "protocol: platform"
  "data: images protocol"
  "http: platform"
  "pages: log data http"
  "api: pages"
  "views: api"
  "service: views"
  # Above the server: they may use all of it.
  "fuzz: service"
  "bench: service"
  "tests: service")

# quor_layer_uses(folder out): every folder the given one may include from,
# itself first; empty when folder is no layer.
function(quor_layer_uses folder out)
  set(uses "")
  set(todo ${folder})
  while(todo)
    list(POP_FRONT todo f)
    if(f IN_LIST uses)
      continue()
    endif()
    foreach(entry ${QUOR_LAYERS})
      string(REGEX MATCH "^([a-z_]+):(.*)$" _ "${entry}")
      if(CMAKE_MATCH_1 STREQUAL f)
        list(APPEND uses ${f})
        string(REGEX MATCHALL "[a-z_]+" below "${CMAKE_MATCH_2}")
        list(APPEND todo ${below})
      endif()
    endforeach()
  endwhile()
  set(${out} ${uses} PARENT_SCOPE)
endfunction()

# quor_layer_folders(out): the folders of the table.
function(quor_layer_folders out)
  set(folders "")
  foreach(entry ${QUOR_LAYERS})
    string(REGEX MATCH "^[a-z_]+" f "${entry}")
    list(APPEND folders ${f})
  endforeach()
  set(${out} ${folders} PARENT_SCOPE)
endfunction()
